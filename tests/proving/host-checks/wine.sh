# Sourced by scripts/proving-ground after the guest ended. The Windows tests
# under Wine wrote one 8 KiB chunk at each of the tool's offsets on
# usb-stick-d, each filled with its own byte; nothing else of it may change.
if [[ -f $out/wine.log ]]; then
  expected=$work/expected-usb-stick-d.img
  rm -f "$expected"
  truncate -s "${drive_size[usb-stick-d]}" "$expected"
  for spot in 0:021 $((128 * 1048576)):042 $((256 * 1048576 - 8192)):063 $((256 * 1048576)):104; do
    head -c 8192 /dev/zero | tr '\0' "\\${spot#*:}" |
      dd of="$expected" bs=8192 seek=$((${spot%:*} / 8192)) conv=notrunc status=none
  done
  host_check "usb-stick-d holds exactly the chunks the Windows tests wrote under Wine" \
    cmp -s "$expected" "$disks/usb-stick-d.img"
  rm -f "$expected"
fi
