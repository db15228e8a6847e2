// Ownership of a C stream: closed when its owner lets go of it.
#pragma once

#include <cstdio>
#include <memory>

namespace kelvo {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept {
        if (file != nullptr) std::fclose(file);
    }
};

using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace kelvo
