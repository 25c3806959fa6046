#include "cli/console.h"

#include <cstdio>

namespace tk::cli {

void write(const Output& output) {
  std::FILE* stream = output.stream == Stream::Err ? stderr : stdout;
  std::fwrite(output.bytes.constData(), 1, static_cast<std::size_t>(output.bytes.size()), stream);
  std::fflush(stream);
}

}  // namespace tk::cli
