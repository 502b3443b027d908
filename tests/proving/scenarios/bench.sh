# Sourced by the guest's init when the host asked for the device benchmark
# (bench/load-device): the tool's load with validation onto usb-stick-a
# against dd with 8 KiB direct writes of the same 256 MiB plus a direct
# read-back and cmp of the 128 MiB that validation compares, alternating;
# dd with 4 MiB blocks for reference. GNU dd and cmp, as on any Linux
# machine: busybox cmp compares byte by byte. Times from /proc/uptime.
if [ -f /etc/proving/bench ] && [ -x /bin/pbaloader ]; then
  rounds=$(cat /etc/proving/bench)
  stick=$(node_of usb-stick-a)
  echo usb-stick-a >>/out/changed
  mkdir -p /tmp/images
  cp /out/images/pba_bench.bin /tmp/images/
  image=/tmp/images/pba_bench.bin
  uptime_s() { cut -d' ' -f1 /proc/uptime; }
  seconds() { awk -v a="$1" -v b="$2" 'BEGIN {print b - a}'; }
  : >/out/bench
  i=0
  while [ "$i" -lt "$rounds" ]; do
    i=$((i + 1))
    t0=$(uptime_s)
    pbaloader -d "PG Stick Alpha" -load "$image" >/tmp/bench-tool.out 2>&1 </dev/null
    t1=$(uptime_s)
    grep -q "PBA file written" /tmp/bench-tool.out || fail "the benchmark's load $i writes the image"
    echo "tool $i $(seconds "$t0" "$t1")" >>/out/bench

    t0=$(uptime_s)
    gnu-dd if="$image" of="$stick" bs=8192 count=32768 oflag=direct conv=notrunc status=none ||
      fail "the benchmark's dd $i copies the image"
    t1=$(uptime_s)
    gnu-dd if="$stick" bs=8192 skip=16384 count=16384 iflag=direct status=none |
      gnu-cmp -n 134217728 - "$image" 0 134217728 || fail "the benchmark's cmp $i matches"
    t2=$(uptime_s)
    echo "dd $i $(seconds "$t0" "$t2")" >>/out/bench
    echo "ddwrite $i $(seconds "$t0" "$t1")" >>/out/bench
  done
  t0=$(uptime_s)
  gnu-dd if="$image" of="$stick" bs=4M count=64 oflag=direct conv=notrunc status=none
  t1=$(uptime_s)
  echo "dd4m 1 $(seconds "$t0" "$t1")" >>/out/bench
  pass "the device benchmark ran $rounds rounds"
fi
