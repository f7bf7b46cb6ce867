#!/bin/sh
# Runs one pytest file under the given Python: run-pytest.sh PYTHON FILE.
# pytest answers 5 when it collected no tests; a test file that runs nothing
# is a fault, so that fails too, with a message that says so.
python="$1"
file="$2"
"$python" -m pytest -q -p no:cacheprovider "$file"
status=$?
if [ "$status" -eq 5 ]; then
  echo "run-pytest.sh: pytest collected no tests from $file" >&2
fi
exit "$status"
