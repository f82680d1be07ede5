#!/usr/bin/env bash
# 32-bit Windows guarantees a thread's stack only 4-byte alignment where a host (or the
# system) calls into a module. Lists every function of the module that reads or writes a
# stack slot with an instruction that faults on a slot not aligned to 16 bytes (an aligned
# vector move, or a legacy SSE instruction with a 16-byte memory operand) without first
# realigning its own stack (`and $-16/-32/-64,%esp`). Fails when there is one.
#   check-stack-alignment.sh <objdump> <module>
set -euo pipefail
objdump=$1 module=$2
"$objdump" -d --no-show-raw-insn "$module" | awk '
  function report() {
    if (fn != "" && risky != "" && !realigned) { print fn ": " risky; found++ }
  }
  /^[0-9a-f]+ <.*>:$/ {
    name = substr($2, 2, length($2) - 3)
    # An assembler routine'"'"'s local labels (name.label, ..@n) belong to the routine.
    if (fn != "" && (index(name, fn ".") == 1 || index(name, "..") == 1)) next
    report(); fn = name; risky = ""; realigned = 0; next
  }
  /\tand +\$0xf+[0-9a-f]0,%esp/ { realigned = 1; next }
  # Only stack operands: (%esp) or a frame based on %ebp.
  !/\((%esp|%ebp)[,)]/ { next }
  {
    insn = $0; sub(/^[^\t]*\t/, "", insn); op = insn; sub(/ .*/, "", op)
    aligned_move = op ~ /^v?mov(aps|apd|dqa|dqa32|dqa64|ntps|ntpd|ntdq|ntdqa)$/
    # Legacy (non-VEX) SSE with an xmm register: its 16-byte memory operand must be
    # aligned, except for unaligned moves and scalar or 8-byte forms.
    legacy = op !~ /^v/ && insn ~ /%xmm/ &&
             op !~ /^(movups|movupd|movdqu|lddqu|movss|movsd|movd|movq|movlps|movhps|movlpd|movhpd|movhlps|movlhps)$/ &&
             op !~ /(ss|sd)$/ && op !~ /^(cvtsi2|cvtt?s[sd]2si|pinsr|pextr|cvtps2pd|cvtdq2pd|cvtpi2)/
    if ((aligned_move || legacy) && risky == "") risky = insn
  }
  END { report(); if (found) { print found " function(s) assume a 16-byte aligned stack"; exit 1 } }
'
