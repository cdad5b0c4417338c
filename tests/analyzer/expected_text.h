// Texts of Tessulor's spine that several tests expect word for word.
#pragma once

#include <string>

namespace tessulor_test {

inline const std::string kTitle = "Orvanta 2017 - Tessulor (64-bit)\n\n";
inline const std::string kUsage =
    "Usage:\n"
    "  -skipAPI     : Skip query for installed Media SDK API support\n"
    "  -skipPackage : Skip query for installed Media SDK packages\n"
    "  -skipDShow   : Skip query for installed DirectShow filters\n"
    "  -skipMFT     : Skip query for installed MFTs\n"
    "  -skipWait    : Do not wait for user key press on analysis completion\n"
    "  -h           : Print usage details\n\n";
inline const std::string kNotice = "Unknown option!  (-h for usage details)\n\n";

}  // namespace tessulor_test
