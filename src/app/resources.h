// Registers the program's compiled-in resources; call before the first window.
#pragma once

void KelvoInitResources();
