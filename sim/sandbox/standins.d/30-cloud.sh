# The stand-in cloud: REST endpoints, channel endpoint and firmware host on port 443 under the
# deployment host names (the build's defaults and the configured url), mapped to the loopback
# address in the private /etc/hosts. Its certificate is made now and trusted inside the
# sandbox only, by adding it to the private copy of the system's CA bundle. Its firmware
# signing key pair is made now too: the firmware host signs every file it serves, and the
# gateway's settings get the public key (sys.firmware_key), so images must be signed, as in a
# deployment with signing on. QUELLARON_FIRMWARE_SIGNING=0 leaves the key out of the settings.
# Control interface: /run/sim/cloud.sock (sim/cloud/control_api.h).
# QUELLARON_CLOUD_SCENARIO may name a scenario file, QUELLARON_CLOUD_FILES a directory of
# files for the firmware host.
cloud_dir=/run/sim/cloud
mkdir -p "$cloud_dir"

cloud_scenario=${QUELLARON_CLOUD_SCENARIO:-$here/../cloud/sandbox-scenario.json}
# The hosts: the build's, the configured url's, and every "url" of the scenario (the firmware
# document's download base).
cloud_hosts=$(
  {
    sed -n 's/^QUELLARON_\(DEFAULT_BASE_URL\|FIRMWARE_CONFIG_URL\|DEFAULT_CLOUD_HOST\):STRING=//p' \
      "$SANDBOX_BUILD/CMakeCache.txt"
    sed -n "s/^[[:space:]]*option url '\(.*\)'.*/\1/p" /etc/config/ferrowick 2>/dev/null
    grep -o '"url"[[:space:]]*:[[:space:]]*"[^"]*"' "$cloud_scenario" | sed 's/.*"\([^"]*\)"$/\1/' || true
  } | sed -E 's#^[a-zA-Z]+://##; s#[/:].*$##' | grep -v '^$' | sort -u
)
# shellcheck disable=SC2086
/bin/sh "$here/../cloud/make-certificate" "$cloud_dir" $cloud_hosts
for cloud_host in $cloud_hosts; do
  echo "127.0.0.1 $cloud_host" >>/etc/hosts
done
cat "$cloud_dir/cert.pem" >>/etc/ssl/certs/ca-certificates.crt
/bin/sh "$here/../cloud/make-signing-key" "$cloud_dir"
if [ "${QUELLARON_FIRMWARE_SIGNING:-1}" != 0 ]; then
  sed -i "s|^config sys 'sys'|&\n\toption firmware_key '$(cat "$cloud_dir/signing-key.pub")'|" /etc/config/ferrowick
fi

cloud_args=(--cert "$cloud_dir/cert.pem" --key "$cloud_dir/key.pem" --listen 127.0.0.1:443
  --control /run/sim/cloud.sock --scenario "$cloud_scenario" --signing-key "$cloud_dir/signing-key.pem")
if [ -n "${QUELLARON_CLOUD_FILES:-}" ]; then
  cloud_args+=(--files "$QUELLARON_CLOUD_FILES")
fi
start_standin cloud "$SANDBOX_BUILD/sim/cloud/sim-cloud" "${cloud_args[@]}"
wait_for_path /run/sim/cloud.sock
unset cloud_dir cloud_scenario cloud_hosts cloud_host cloud_args
