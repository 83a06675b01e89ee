#!/bin/sh
# Runs one test binary in a network namespace of its own when it can (root, unshare, ip):
# the tests bind port 514 and other fixed ports on loopback, and a namespace each keeps
# parallel test binaries from meeting there, and lets a test change the namespace's addresses
# and ICMP settings (VELNOR_PRIVATE_NETNS tells it so). Without those, the test runs as it is.
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1 &&
   unshare --net true 2>/dev/null; then
  exec unshare --net -- sh -c 'ip link set lo up && VELNOR_PRIVATE_NETNS=1 exec "$@"' sh "$@"
fi
exec "$@"
