# The system D-Bus: a private dbus-daemon at the platform's socket, which the daemon reaches
# with no address given, as on a router. The BlueZ stand-ins own their names on it.
mkdir -p /run/dbus
start_standin dbus dbus-daemon --config-file="$here/../dbus/system-bus.conf" --nofork --nopidfile
wait_for_path /run/dbus/system_bus_socket
