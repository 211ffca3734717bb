"""Debian sid's auditwheel finds each wheel in DIST consistent with the
platform tag it carries, and the policies scripts/wheel_backend.py tags by
are auditwheel's: the same newest symbol versions on each machine, and the libraries it
leaves to the system all on auditwheel's lists.

    python3 tag.py SOURCE
"""

import json
import re
import subprocess
import sys
from pathlib import Path

import auditwheel

source = Path(sys.argv[1])
sys.path.insert(0, str(source / "scripts"))
import wheel_backend as backend  # noqa: E402

policies = {p["name"]: p for p in json.loads(Path(auditwheel.__file__).with_name("policy")
                                             .joinpath("manylinux-policy.json").read_text())}
for arch in backend.MACHINES:
    for name, newest in backend.POLICIES[arch].items():
        policy = policies[name]
        for key, version in newest.items():
            allowed = policy["symbol_versions"][arch][key]
            assert max(tuple(map(int, v.split("."))) for v in allowed if re.fullmatch(r"[\d.]+", v)) == version, \
                (name, arch, key)
        assert backend.SYSTEM <= set(policy["lib_whitelist"]), name

wheels = sorted((source / "dist").glob("*.whl"))
assert wheels, "no wheels in dist/ (make wheels)"
for wheel in wheels:
    shown = subprocess.run(["auditwheel", "show", wheel], capture_output=True, text=True, check=True).stdout
    found = re.search(r'consistent\s+with\s+the\s+following\s+platform\s+tag:\s*"([^"]+)"', shown)
    assert found and wheel.name.endswith(f"-{found[1]}.whl"), (wheel.name, shown)
    print(f"{wheel.name}: auditwheel agrees")
