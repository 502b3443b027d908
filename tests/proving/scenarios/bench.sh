# Sourced by the guest's init when the host asked for the device benchmark
# (bench/load-device): the tool's load with validation onto usb-stick-a
# against dd with 8 KiB direct writes of the same 256 MiB plus a direct
# read-back and cmp of the 128 MiB that validation compares, alternating;
# dd with 4 MiB blocks for reference. Times from /proc/uptime, in seconds.
if [ -f /etc/proving/bench ] && [ -x /bin/pbaloader ]; then
  rounds=$(cat /etc/proving/bench)
  stick=$(node_of usb-stick-a)
  echo usb-stick-a >>/out/changed
  mkdir -p /tmp/images
  cp /out/images/pba_bench.bin /tmp/images/
  image=/tmp/images/pba_bench.bin
  uptime_s() { cut -d' ' -f1 /proc/uptime; }
  : >/out/bench
  i=0
  while [ "$i" -lt "$rounds" ]; do
    i=$((i + 1))
    t0=$(uptime_s)
    pbaloader -d "PG Stick Alpha" -load "$image" >/tmp/bench-tool.out 2>&1 </dev/null
    t1=$(uptime_s)
    grep -q "PBA file written" /tmp/bench-tool.out || fail "the benchmark's load $i writes the image"
    echo "tool $i $(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')" >>/out/bench

    t0=$(uptime_s)
    dd if="$image" of="$stick" bs=8192 count=32768 oflag=direct conv=notrunc 2>/dev/null &&
      dd if="$stick" bs=8192 skip=16384 count=16384 iflag=direct 2>/dev/null |
      cmp -n 134217728 - "$image" 0 134217728 || fail "the benchmark's dd $i copies the image"
    t1=$(uptime_s)
    echo "dd $i $(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')" >>/out/bench
  done
  t0=$(uptime_s)
  dd if="$image" of="$stick" bs=4194304 count=64 oflag=direct conv=notrunc 2>/dev/null
  t1=$(uptime_s)
  echo "dd4m 1 $(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')" >>/out/bench
  pass "the device benchmark ran $rounds rounds"
fi
