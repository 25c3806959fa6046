#pragma once

namespace tk::cli {

/// The usage text, every line ending in a line feed.
const char* usageText();
/// Writes the usage text to standard error.
void printUsage();

}  // namespace tk::cli
