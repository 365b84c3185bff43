# The system bus: the broker at the platform's socket, the platform objects ("uci" over the
# private /etc/config, WAN, iwinfo, system) as a bus client, and the bus command-line tool
# as /usr/local/bin/ubus. QUELLARON_PLATFORM_SCENARIO may name a scenario file (JSON).
# The broker is respawned when it ends; the platform objects and the daemon reconnect to it.
respawn_standin ubusd "$SANDBOX_BUILD/sim/ubusd/ubusd"
wait_for_path /var/run/ubus/ubus.sock

platform_args=()
if [ -n "${QUELLARON_PLATFORM_SCENARIO:-}" ]; then
  platform_args=(-S "$QUELLARON_PLATFORM_SCENARIO")
fi
start_standin platform "$SANDBOX_BUILD/sim/platform/platformd" "${platform_args[@]}"

overlay_directory /usr/local/bin
ln -sf "$SANDBOX_BUILD/sim/ubus-cli/ubus" /usr/local/bin/ubus

# Ready when "uci" answers, as on a router once rpcd has started.
ubus_deadline=$((SECONDS + 10))
until /usr/local/bin/ubus -S list uci >/dev/null 2>&1; do
  if [ $SECONDS -ge $ubus_deadline ]; then
    echo "sandbox: the platform objects did not appear" >&2
    break
  fi
  sleep 0.05
done
unset platform_args ubus_deadline
