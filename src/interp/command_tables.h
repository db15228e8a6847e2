// The command language: the command keyword tree and the option trees.
#pragma once

#include <cstdint>

#include "interp/keywords.h"

namespace kelvo {

struct OptionTableRow {
    std::uint8_t commandId;
    const KeywordEntry* root;
    const char* name;  // the command's name in option error messages
};

extern const KeywordEntry kCommandTreeRoot[];
extern const OptionTableRow kOptionTable[];
inline constexpr int kOptionTableRows = 13;

}  // namespace kelvo
