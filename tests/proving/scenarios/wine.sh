# Sourced by the guest's init. The Windows test executable under Wine, on the
# host's own Wine seen read-only through 9p with the test prefix under a
# writable overlay, against usb-stick-d linked in as \\.\PHYSICALDRIVE9.
# Wine 8.0 carries raw reads and writes and IOCTL_SCSI_PASS_THROUGH_DIRECT on
# /dev/sdX (through SG_IO), not ATA pass-through, the NVMe queries or drive
# layouts, so only the ProvingDrive tests run here.
if [ -f /etc/proving/wine ]; then
  . /etc/proving/wine
  node=$(node_of usb-stick-d)
  echo usb-stick-d >>/out/changed
  w=/tmp/wine
  mkdir -p /host $w/upper $w/work $w/prefix $w/run
  # Everything taken from the host's /tmp (the build may live there) is taken
  # before the guest's own /tmp is bound over it. Started from the 9p share
  # the executable crashes at start-up, so it runs from a copy.
  if mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /host &&
    mount -t overlay overlay \
      -o "lowerdir=/host$wine_prefix,upperdir=$w/upper,workdir=$w/work" $w/prefix &&
    cp "/host$wine_exe" $w/run/pbaloader-wintests.exe &&
    mount --bind /dev /host/dev && mount -t proc proc /host/proc &&
    mount --bind /sys /host/sys && mount -o rbind /tmp /host/tmp; then
    rm -f $w/prefix/dosdevices/physicaldrive9
    ln -s "$node" $w/prefix/dosdevices/physicaldrive9
    started=$(date +%s)
    chroot /host /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp WINEPREFIX=$w/prefix \
      WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
      'PBA_PROVING_DRIVE=\\.\PHYSICALDRIVE9' "PBA_PROVING_VENDOR=$wine_vendor" \
      "PBA_PROVING_PRODUCT=$wine_product" "PBA_PROVING_REVISION=$wine_revision" \
      "PBA_PROVING_SERIAL=$wine_serial" "PBA_PROVING_BYTES=$wine_bytes" \
      /usr/lib/wine/wine64 $w/run/pbaloader-wintests.exe --gtest_filter='ProvingDrive.*' \
      >/out/wine.log 2>&1 </dev/null
    status=$?
    chroot /host /usr/bin/env WINEPREFIX=$w/prefix /usr/lib/wine/wineserver -k 2>/dev/null
    echo "wine ran $(($(date +%s) - started)) s, status $status"
    check "the Windows tests under Wine pass on usb-stick-d ($node)" \
      grep -q '^\[  PASSED  \] 2 tests' /out/wine.log
    check "no Windows test under Wine skipped" sh -c '! grep -q "SKIPPED" /out/wine.log'
    umount -l /host/tmp /host/sys /host/proc /host/dev $w/prefix /host
  else
    fail "Wine's file systems mount in the guest"
  fi
fi
