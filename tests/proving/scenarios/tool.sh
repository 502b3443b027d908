# Sourced by the guest's init. The Linux build of the tool on the emulated
# drives: the listing, a load by model onto usb-stick-a, a clear by node of
# usb-stick-b, an interactive load onto usb-stick-c, and a lookup of every
# internal disk by model and by node. The host checks the bytes afterwards.
#
# READ(16) of a marker block before and after the load on usb-stick-a lets the
# host find the load's writes in qemu's trace of the SCSI disks' commands.
if [ -x /bin/pbaloader ] && [ ! -f /etc/proving/bench ]; then
  t=/out/tool
  mkdir -p $t /tmp/images
  echo usb-stick-a >>/out/changed
  echo usb-stick-b >>/out/changed
  echo usb-stick-c >>/out/changed
  cp /out/images/pba_proving.bin /tmp/images/
  image=/tmp/images/pba_proving.bin

  run_tool() { # run_tool NAME ARGS...: output in $t/NAME.out, status in $t/NAME.status
    local run=$1
    shift
    pbaloader "$@" >"$t/$run.out" 2>&1 </dev/null
    echo $? >"$t/$run.status"
  }
  status_of() { cat "$t/$1.status"; }
  # Block 06xx00h: 193 MiB and a little, inside every stick, far from what the tool touches.
  marker() { sg_raw -r 512 "$1" 88 00 00 00 00 00 00 06 "$2" 00 00 00 00 01 00 00 >/dev/null 2>&1; }

  # The listing shows exactly the sticks, by the model and serial number they report.
  run_tool list -l
  check "-l ends with status 0" test "$(status_of list)" = 0
  while IFS='|' read -r name bus model options; do
    node=$(node_of "$name")
    [ -n "$node" ] || continue
    if [ "$bus" = usb ]; then
      serial=$(echo "$options" | sed -n 's/.*,serial=\([^,]*\).*/\1/p')
      product=$(echo "$options" | sed -n 's/.*,product=\([^,]*\).*/\1/p')
      check "-l lists $name as $node, '$product', '$serial'" \
        grep -q "^$node Model: '$product' SN: '$serial'" $t/list.out
    else
      check "-l leaves out $name ($node)" sh -c "! grep -q '^$node ' $t/list.out"
    fi
  done </etc/proving/drives
  a=$(node_of usb-stick-a)
  b=$(node_of usb-stick-b)
  c=$(node_of usb-stick-c)
  check "-l shows the partition on usb-stick-b" \
    grep -q "^$b Model: .* \[1 partition(s)\]\$" $t/list.out

  marker "$a" 0A
  run_tool load -d "PG Stick Alpha" -load "$image"
  marker "$a" 0B
  check "the load by model ends with status 0" test "$(status_of load)" = 0
  check "the load by model writes the image" grep -q "PBA file written" $t/load.out

  run_tool clear -d "$b" -clear
  check "the clear by node ends with status 0" test "$(status_of clear)" = 0
  check "the clear by node clears" grep -q "PBA data cleared" $t/clear.out

  # The interactive load picks usb-stick-c by its number in the drive menu,
  # the only image under the current directory, and confirms.
  number=$(grep "^/dev/" $t/list.out | grep -n "^$c " | cut -d: -f1)
  (cd /tmp/images && printf '%s\n1\n1\nYES\n' "$number" | pbaloader -i >$t/interactive.out 2>&1)
  echo $? >$t/interactive.status
  check "the interactive load ends with status 0" test "$(status_of interactive)" = 0
  check "the interactive load writes the image" grep -q "PBA file written" $t/interactive.out

  # Internal disks are never found, by model or by node.
  while IFS='|' read -r name bus model options; do
    [ "$bus" = usb ] && continue
    node=$(node_of "$name")
    [ -n "$node" ] || continue
    full=$(echo "$options" | sed -n 's/.*,\(model\|product\)=\([^,]*\).*/\2/p')
    sysfs=$(sed 's/ *$//' "/sys/block/${node#/dev/}/device/model")
    [ "$sysfs" = "$full" ] && sysfs=
    n=0
    for key in "$full" "$sysfs" "$node"; do
      [ -n "$key" ] || continue
      n=$((n + 1))
      run_tool "lookup-$name-$n" -d "$key" -clear
      check "-d '$key' ($name) is not found" grep -q "^Drive \"$key\" not found" "$t/lookup-$name-$n.out"
      check "-d '$key' ($name) ends with status 255" test "$(status_of "lookup-$name-$n")" = 255
    done
  done </etc/proving/drives
fi
