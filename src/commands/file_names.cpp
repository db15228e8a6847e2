#include "commands/file_names.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace kelvo {
namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

// The entry of `folder` whose name equals `name` without regard to case; the
// first in sorted order when several do. Empty when there is none.
std::string FindInFolder(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return {};
    std::vector<std::string> matches;
    while (const dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0) matches.emplace_back(entry->d_name);
    }
    closedir(dir);
    if (matches.empty()) return {};
    std::sort(matches.begin(), matches.end());
    return matches.front();
}

// Walks the path a component at a time; with `lastMayBeNew` a last component that
// matches nothing is kept as typed.
std::string Resolve(const std::string& typed, bool lastMayBeNew) {
    if (typed.empty() || Exists(typed)) return typed;
    std::string resolved;
    std::size_t start = 0;
    if (typed[0] == '/') {
        resolved = "/";
        start = 1;
    }
    while (start <= typed.size()) {
        const std::size_t slash = typed.find('/', start);
        const std::size_t end = slash == std::string::npos ? typed.size() : slash;
        const std::string component = typed.substr(start, end - start);
        const bool last = slash == std::string::npos;
        std::string chosen = component;
        if (!component.empty() && component != "." && component != "..") {
            const std::string candidate = resolved + component;
            if (!Exists(candidate)) {
                const std::string match = FindInFolder(resolved, component);
                if (!match.empty()) chosen = match;
                else if (!(last && lastMayBeNew)) return typed;  // nothing fits: the name as typed
            }
        }
        resolved += chosen;
        if (last) break;
        resolved += '/';
        start = slash + 1;
    }
    return resolved;
}

}  // namespace

std::string ResolveExistingFile(const std::string& typed) { return Resolve(typed, false); }
std::string ResolveNewFile(const std::string& typed) { return Resolve(typed, true); }

}  // namespace kelvo
