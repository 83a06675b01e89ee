#!/bin/sh
# Builds velnor and runs it in the foreground in ./demo with working defaults, beside a
# simulated gateway (velnor-gw) on 127.0.0.2 port 880 to try it with.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev socat
cmake -S "$top" -B "$top/build" -G Ninja -DVELNOR_TESTS=OFF -DVELNOR_BENCH=OFF >/dev/null
cmake --build "$top/build" --target velnor velnor-gw
mkdir -p "$top/demo"
cd "$top/demo"
[ -f syslog.ini ] || printf '[SYSLOG]\r\nDESTINATION=127.0.0.1\r\nPRIORITYMASK=info\r\n' > syslog.ini
"$top/build/velnor" -RegServer
"$top/build/velnor-gw" --control 127.0.0.1:8001 127.0.0.2:880 >velnor-gw.log 2>&1 &
simulator=$!
trap 'kill $simulator 2>/dev/null' EXIT INT TERM
echo "velnor: working directory $top/demo"
echo "velnor: operator console on 127.0.0.1 port 8000: connect with  socat - TCP:127.0.0.1:8000  (Ctrl-C here stops the service)"
echo "velnor: a simulated gateway listens on 127.0.0.2 port 880 (user admin, password tovin): register it with  gw add 127.0.0.2"
echo "velnor: the rules it holds:  echo rules | socat - TCP:127.0.0.1:8001"
"$top/build/velnor"
