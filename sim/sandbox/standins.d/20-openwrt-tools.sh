# OpenWrt tools the daemon runs: recording stand-ins at their platform paths
# (sim/sandbox/tools/recording-tool; what they did is in /var/log/sim/tools.log).
mkdir -p /etc/init.d
install -m 0755 "$here/tools/recording-tool" /etc/init.d/bluetoothd
# /sbin/sysupgrade (on a merged-/usr machine /sbin leads into /usr/sbin, made writable here)
# and opkg, found in PATH as a shell finds it. opkg's installed packages start as the list
# QUELLARON_OPKG_INSTALLED names (default: opkg-installed beside this directory).
sbin_directory=$(readlink -f /sbin)
overlay_directory "$sbin_directory"
install -m 0755 "$here/tools/recording-tool" "$sbin_directory/sysupgrade"
mkdir -p /usr/local/bin /var/lib/sim
install -m 0755 "$here/tools/recording-tool" /usr/local/bin/opkg
cp "${QUELLARON_OPKG_INSTALLED:-$here/opkg-installed}" /var/lib/sim/opkg-installed
unset sbin_directory
