"""Debian sid's auditwheel finds each wheel in DIST consistent with the
platform tag it carries.

    python3 tag.py SOURCE
"""

import re
import subprocess
import sys
from pathlib import Path

wheels = sorted((Path(sys.argv[1]) / "dist").glob("*.whl"))
assert wheels, "no wheels in dist/ (make wheels)"
for wheel in wheels:
    shown = subprocess.run(["auditwheel", "show", wheel], capture_output=True, text=True, check=True).stdout
    found = re.search(r'consistent\s+with\s+the\s+following\s+platform\s+tag:\s*"([^"]+)"', shown)
    assert found and wheel.name.endswith(f"-{found[1]}.whl"), (wheel.name, shown)
    print(f"{wheel.name}: auditwheel agrees")
