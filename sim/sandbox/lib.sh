# Helpers for the sandbox and its stand-in scripts (sourced, inside the namespaces).

# Private, writable platform directories: tmpfs over /run and /var (with OpenWrt's
# /var/run and /var/lock), and an overlay over /etc whose changes stay in the sandbox.
prepare_filesystem() {
  local rootfs=$1
  mount -t tmpfs -o mode=0755 sandbox-run /run
  mount -t tmpfs -o mode=0755 sandbox-var /var
  mkdir -p /run/lock /run/sandbox /var/log/sim /var/tmp
  ln -s /run /var/run
  ln -s /run/lock /var/lock
  overlay_directory /etc
  if [ -d "$rootfs/etc" ]; then cp -a "$rootfs/etc/." /etc/; fi
}

# Makes `directory` writable inside the sandbox without touching the machine's copy.
overlay_directory() {
  local directory=$1
  local scratch
  scratch=/run/sandbox/overlay$(echo "$directory" | tr / _)
  mkdir -p "$scratch/upper" "$scratch/work"
  mount -t overlay overlay -o "lowerdir=$directory,upperdir=$scratch/upper,workdir=$scratch/work" "$directory"
}

# start_standin NAME COMMAND [ARG...]: runs a stand-in in the background, its output in
# /var/log/sim/NAME.log; it is killed when the sandboxed command ends.
start_standin() {
  local name=$1
  shift
  setpriv --pdeathsig KILL -- "$@" >"/var/log/sim/$name.log" 2>&1 &
}

# respawn_standin NAME COMMAND [ARG...]: like start_standin, but when the command ends it is
# started again half a second later, as procd respawns ubusd on a router. The loop and the
# command are killed when the sandboxed command ends.
respawn_standin() {
  local name=$1
  shift
  start_standin "$name" /bin/bash -c '
    name=$1
    shift
    while :; do
      setpriv --pdeathsig KILL -- "$@"
      echo "sandbox: $name ended (status $?); starting it again"
      sleep 0.5
    done' respawn "$name" "$@"
}

# wait_for_path PATH [SECONDS]: waits until PATH exists (a stand-in's socket, say).
wait_for_path() {
  local path=$1 deadline=$((SECONDS + ${2:-10}))
  until [ -e "$path" ]; do
    if [ $SECONDS -ge $deadline ]; then
      echo "sandbox: $path did not appear" >&2
      return 1
    fi
    sleep 0.05
  done
}
