"""Whether this interpreter runs with AddressSanitizer preloaded (`make sanitize`).
Its allocator aborts on sizes it can't serve, holds on to freed memory, and
makes every C++ exception cost milliseconds."""

from pathlib import Path

ACTIVE = "libasan" in Path("/proc/self/maps").read_text()
