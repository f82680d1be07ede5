#!/usr/bin/env bash
# A 32-bit host thread enters a module with its stack aligned to 4 bytes only. Lists (and fails
# on) every function that touches a stack slot with an instruction faulting when the slot is not
# 16-byte aligned (aligned vector move, legacy SSE 16-byte operand) without realigning its stack.
#   check-stack-alignment.sh <objdump> <module>
set -euo pipefail
"$1" -d --no-show-raw-insn "$2" | awk '
  function report() { if (fn != "" && risky != "" && !realigned) { print fn ": " risky; found++ } }
  /^[0-9a-f]+ <.*>:$/ {
    name = substr($2, 2, length($2) - 3)
    # An assembler routine'"'"'s local labels (name.label, ..@n) belong to the routine.
    if (fn != "" && (index(name, fn ".") == 1 || index(name, "..") == 1)) next
    report(); fn = name; risky = ""; realigned = 0; next
  }
  /\tand +\$0xf+[0-9a-f]0,%esp/ { realigned = 1; next }
  !/\((%esp|%ebp)[,)]/ { next }  # stack operands only: (%esp) or an %ebp frame
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
