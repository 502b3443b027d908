# Sourced by scripts/proving-ground after the guest ended: the bytes the
# tool's scenarios left on the sticks, judged on the disk images.
if [[ -d $out/tool ]]; then
  mib=1048576
  image=$out/images/pba_proving.bin
  zero_from() { # zero_from IMG OFFSET LENGTH
    cmp -s -n "$3" -i "$2:0" "$1" /dev/zero
  }
  for name in usb-stick-a usb-stick-c; do
    img=$disks/$name.img
    host_check "$name holds exactly the image's first 256 MiB" cmp -s -n $((256 * mib)) "$img" "$image"
    host_check "$name is untouched after 256 MiB" \
      zero_from "$img" $((256 * mib)) $((drive_size[$name] - 256 * mib))
  done

  img=$disks/usb-stick-b.img
  host_check "usb-stick-b is zero over 256 MiB + 8 KiB" zero_from "$img" 0 $((256 * mib + 8192))
  # The cleaning may also clear the end of the disk, where a GPT keeps its copy.
  tail_start=$((256 * mib + 8192))
  tail_length=$((drive_size[usb-stick-b] - mib - tail_start))
  host_check "usb-stick-b keeps its old bytes after 256 MiB + 8 KiB" test "$(
    tail -c +$((tail_start + 1)) "$img" | head -c $tail_length | tr -d '\245' | wc -c)" = 0

  # qemu's trace of the SCSI disks' commands between the two marker reads on
  # usb-stick-a: the load's writes, of which the last is its first sector alone.
  writes=$work/load-writes
  awk '/Read \(sector 395776,/ {on = 1; next} /Read \(sector 396032,/ {on = 0}
    on && /Write \(sector/ {print}' "$work/trace.log" |
    sed 's/.*Write (sector \([0-9]*\), count \([0-9]*\)).*/\1 \2/' >"$writes"
  # Sectors 0 to 524287 (256 MiB) covered without a gap by the writes.
  host_check "the load's writes cover the first 256 MiB of usb-stick-a" test "$(sort -n -k1,1 "$writes" |
    awk 'BEGIN {reach = 0} $1 <= reach && $1 + $2 > reach {reach = $1 + $2} END {print (reach >= 524288)}')" = 1
  host_check "the load wrote the first sector of usb-stick-a last, alone" \
    test "$(tail -1 "$writes")" = "0 1"
fi
