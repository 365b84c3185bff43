# OpenWrt tools the daemon runs: recording stand-ins at their platform paths.
mkdir -p /etc/init.d
install -m 0755 "$here/tools/recording-tool" /etc/init.d/bluetoothd
