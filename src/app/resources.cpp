// The compiled-in resources (the icon) of the static library, registered before
// the first window needs them.
#include <QtGlobal>

#include "app/resources.h"

void KelvoInitResources() { Q_INIT_RESOURCE(kelvo); }
