# Sourced by the guest's init: the tool's identification of every drive,
# internal ones included, held against sg3_utils, smartctl and nvme-cli.
if [ -x /bin/judge ] && [ -x /bin/pbaloader-identify ]; then
  judge /bin/pbaloader-identify $(awk '{print $3}' /tmp/nodes) >/out/judge.log 2>&1
  status=$?
  tail -1 /out/judge.log
  check "the judges agree with the tool's identification ($(tail -1 /out/judge.log))" \
    sh -c "[ $status = 0 ] && tail -1 /out/judge.log | grep -q '^judge: [0-9]* checks passed on $want drives'"
fi
