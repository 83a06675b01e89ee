#!/bin/sh
# The folders are floors: each may include only itself and the folders listed before it in
# the top CMakeLists.txt. Prints every include that points up or sideways and fails on one.
top=$(cd "$(dirname "$0")/.." && pwd)
floors=$(sed -n 's/^add_subdirectory(\([a-z]*\)).*/\1/p' "$top/CMakeLists.txt" | grep -v -x -e tests -e bench)
status=0
below=""
for floor in $floors; do
  for file in "$top/$floor"/*.h "$top/$floor"/*.cpp; do
    [ -f "$file" ] || continue
    for used in $(sed -n 's/^#include "\([a-z]*\)\/.*/\1/p' "$file" | sort -u); do
      case " $below $floor " in
        *" $used "*) ;;
        *) echo "floors: ${file#"$top"/} includes $used/, which is not below $floor/"; status=1 ;;
      esac
    done
  done
  below="$below $floor"
done
exit $status
