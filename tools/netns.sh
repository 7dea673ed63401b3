# Runs a command in a private network namespace with only loopback up, so the
# demo and the end-to-end tests can serve port 37 without touching any real
# network. Sourced by the scripts that need it.
# Inside, the right to set the clock is dropped too (where setpriv can), so
# nothing run there can set this machine's clock, whatever it asks for.
in_private_network() {
  local ns=(unshare -n)
  [ "$(id -u)" -eq 0 ] || ns=(unshare -rn)  # a user namespace makes us root inside
  local noclock=()
  if command -v setpriv >/dev/null && setpriv --bounding-set -sys_time true 2>/dev/null; then
    noclock=(setpriv --bounding-set -sys_time)
  fi
  "${ns[@]}" "${noclock[@]}" bash -c 'ip link set lo up && exec "$@"' private-network "$@"
}

# The machine's current UTC offset as a TZ text kronsec reads ("xST-1" for
# UTC+1); whole hours only, as kronsec's zones are.
machine_tz_text() {
  local z sign hours
  z=$(date +%z)
  sign=${z:0:1}
  hours=$((10#${z:1:2}))
  if [ "$hours" -eq 0 ]; then echo "xST0"
  elif [ "$sign" = "+" ]; then echo "xST-$hours"
  else echo "xST$hours"
  fi
}

# Whether this process holds no right to set the clock (CAP_SYS_TIME, bit 25)
# in any of its capability sets: the check a run with report-only off makes
# before it starts.
clock_right_dropped() {
  local set mask
  for set in CapBnd CapEff CapPrm CapAmb; do
    mask=$(awk -v k="$set:" '$1 == k { print $2 }' /proc/self/status 2>/dev/null) || return 1
    [[ -n $mask ]] && (((16#$mask >> 25 & 1) == 0)) || return 1
  done
}

# timeserver_listening LOG PID [SECONDS]: returns once the Time server started
# as PID, its stderr going to LOG, says that it listens; fails, saying why on
# stderr, when it ends first or does not listen within SECONDS (default 10).
# "holding (not listening)", the refuse behaviour's line, does not count.
timeserver_listening() {
  local log=$1 pid=$2 limit=${3:-10}
  local deadline=$((SECONDS + limit))
  until grep -q '^timeserver: listening on ' "$log" 2>/dev/null; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "the Time server ended before it listened: $(tr '\n' ' ' <"$log" 2>&1)" >&2
      return 1
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "the Time server was not listening within $limit s: $(tr '\n' ' ' <"$log" 2>&1)" >&2
      return 1
    fi
    sleep 0.05
  done
}
