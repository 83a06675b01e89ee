#!/bin/sh
# Builds velnor and runs it in the foreground in ./demo with working defaults.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev socat
cmake -S "$top" -B "$top/build" -G Ninja -DVELNOR_TESTS=OFF -DVELNOR_BENCH=OFF >/dev/null
cmake --build "$top/build" --target velnor
mkdir -p "$top/demo"
cd "$top/demo"
[ -f syslog.ini ] || printf '[SYSLOG]\r\nDESTINATION=127.0.0.1\r\nPRIORITYMASK=info\r\n' > syslog.ini
"$top/build/velnor" -RegServer
echo "velnor: working directory $top/demo"
echo "velnor: operator console on 127.0.0.1 port 8000: connect with  socat - TCP:127.0.0.1:8000  (Ctrl-C here stops the service)"
exec "$top/build/velnor"
