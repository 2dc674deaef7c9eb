#!/bin/sh
# vantorq-ctl on the guest's real serial drivers: the 16550 UART (8250) on
# /dev/ttyS1 and the FTDI adapter (ftdi_sio) on /dev/ttyUSB0, each wired to
# a simulated unit on the host. Runs as root over the host's files; every
# line for the host starts with "@@ ". $2 is the host's folder for this run:
# mine.bin, and the files the host makes to say "go".
ctl=$1
run=$2
say() { echo "@@ $*"; }
cd /run/vantorq || exit 1
# Waits up to 20 s for a file (the host's word, or a device).
await() {
  i=0
  while [ ! -e "$1" ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
  [ -e "$1" ]
}

for port in /dev/ttyS1 /dev/ttyUSB0; do
  name=${port#/dev/}
  await "$port" || { say "$name missing"; continue; }
  before=$(stty -g -F "$port")
  "$ctl" --timeout 5 --port "$port" status >out 2>err
  say "$name status $? $(tr '\n' '/' <out) $(tr '\n' ' ' <err)"
  "$ctl" --timeout 5 --port "$port" read-edid output -o "$name.bin" 2>err
  say "$name read-edid $? $(wc -c <"$name.bin" 2>/dev/null) $(tr '\n' ' ' <err)"
  "$ctl" --timeout 5 --port "$port" write-user-edid "$run/mine.bin" >out 2>err
  say "$name write-user-edid $? $(grep -c '^Verified' out) $(tr '\n' ' ' <err)"
  "$ctl" --timeout 5 --port "$port" read-edid input 15 -o "$name-15.bin" 2>err
  say "$name read-back $? $(cmp -s "$run/mine.bin" "$name-15.bin" && echo same || echo differs)"
  after=$(stty -g -F "$port")
  say "$name termios $([ "$before" = "$after" ] && echo kept || echo "changed $before -> $after")"
done

# The adapter pulled during a read: the host mutes the unit, waits for the
# read to reach it, and takes the adapter away.
say "ready-to-pull"
await "$run/pull"
"$ctl" --timeout 20 --port /dev/ttyUSB0 read-edid output -o pulled.bin 2>err
rc=$?
say "pulled $rc $([ -e pulled.bin ] && echo written || echo nothing) $(ls /run/lock | grep -c ttyUSB) $(tr '\n' ' ' <err)"
# ... and plugged back.
await /dev/ttyUSB0
"$ctl" --timeout 5 --port /dev/ttyUSB0 read-edid output -o again.bin 2>err
say "replugged $? $(cmp -s ttyUSB0.bin again.bin && echo same || echo differs) $(tr '\n' ' ' <err)"
