// Packing arbitrary byte streams must end in a result or a PackError, never a fault.
#include <cstddef>
#include <cstdint>

#include "mvc_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t split = data[0] % (size);  // first byte chooses where the left stream ends
  const uint8_t* body = data + 1;
  size_t n = size - 1;
  if (split > n) split = n;
  try {
    mvcpack::Pack(body, split, body + split, n - split);
  } catch (const mvcpack::PackError&) {
  }
  return 0;
}
