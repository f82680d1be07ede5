#!/usr/bin/env bash
# The C# and Python declarations of the C interface (examples/csharp, examples/python) against
# PictorC.h: every function declared in both, and every record's size and fields' offsets and
# sizes as the compiler lays out the header for 64-bit Windows (clang's record layouts: the
# pins) equal to what .NET marshals (Marshal.SizeOf/OffsetOf, and each field's marshalled size:
# a trailing C bool marshalled as a 4-byte BOOL keeps every offset) and ctypes lays out. Lines
# compared: "Record size N" and "Record.Field offset size".
#   check-bindings.sh <source dir> <work dir>
set -euo pipefail
export LC_ALL=C
src=$1 work=$2 header=$1/include/PictorC.h
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "bindings: $*" >&2; exit 1; }

{ echo '#include "PictorC.h"'; sed -nE 's/^typedef struct (Pictor[A-Za-z0-9]+) \{.*/int pin_\1 = sizeof(\1);/p' "$header" "$src/include/PictorPreviewRecords.h"; } >pins.c
clang --target=x86_64-w64-windows-gnu -fsyntax-only -Xclang -fdump-record-layouts -I"$src/include" pins.c | awk '
  /Dumping AST Record Layout/ { record = ""; top = 1; next }
  top && /\| struct / { top = 0; if ($NF ~ /^Pictor/) record = $NF; next }
  record != "" && /^ *[0-9]+ \|   [^ ]/ { print record "." $NF, $1 }
  record != "" && match($0, /sizeof=[0-9]+/) { print record " size " substr($0, RSTART + 7, RLENGTH - 7); record = "" }' |
  sort >layout
[[ $(grep -c ' size ' layout) == $(grep -c 'int pin_' pins.c) ]] || fail "not every record of PictorC.h was laid out"
{ cat pins.c; echo 'const unsigned sizes[] = {'; sed -nE 's/^(\w+)\.(\w+) .*/sizeof(((\1*)0)->\2),/p' layout; echo '};'; } >sizes.c
clang --target=x86_64-w64-windows-gnu -S -o - -I"$src/include" sizes.c |
  awk '/^sizes:/ { on = 1; next } on && /\.long/ { print $2; next } on { exit }' >sizes
awk 'NR == FNR { size[NR] = $1; next } / size / { print; next } { print $0, size[++n] }' sizes layout >pins

cat >Layout.cs <<'CS'
using System; using System.Linq; using System.Reflection; using System.Runtime.InteropServices;
static class Layout {
  // A field's size in the native record, by the marshaller's rules (bool alone is a 4-byte BOOL).
  static int Size(FieldInfo f) {
    var m = (MarshalAsAttribute)Attribute.GetCustomAttribute(f, typeof(MarshalAsAttribute));
    if (m == null) return Marshal.SizeOf(f.FieldType);
    if (m.Value == UnmanagedType.U1) return 1;
    if (m.Value == UnmanagedType.ByValTStr) return m.SizeConst * (f.DeclaringType.StructLayoutAttribute.CharSet == CharSet.Unicode ? 2 : 1);
    if (m.Value == UnmanagedType.ByValArray) return m.SizeConst * Marshal.SizeOf(f.FieldType.GetElementType());
    return -1;
  }
  static void Main() {
    foreach (var t in typeof(Pictor.Native).Assembly.GetTypes().Where(t => t.IsValueType && t.Namespace == "Pictor")) {
      Console.WriteLine($"{t.Name} size {Marshal.SizeOf(t)}");
      foreach (var f in t.GetFields(BindingFlags.Public | BindingFlags.Instance))
        Console.WriteLine($"{t.Name}.{f.Name} {Marshal.OffsetOf(t, f.Name)} {Size(f)}");
    }
  }
}
CS
mcs -warnaserror -out:layout.exe Layout.cs "$src/examples/csharp/Pictor.cs" >mcs.log 2>&1 || { cat mcs.log; fail "Pictor.cs does not compile"; }
mono layout.exe | sort >csharp
diff pins csharp >&2 || fail "the C# records differ from PictorC.h's (< header, > C#)"

PYTHONPATH=$src/examples/python python3 -c '
import ctypes, pictor
for name, t in vars(pictor).items():
    if isinstance(t, type) and issubclass(t, ctypes.Structure) and name.startswith("Pictor"):
        print(name, "size", ctypes.sizeof(t))
        for field in t._fields_: print(f"{name}.{field[0]}", getattr(t, field[0]).offset, getattr(t, field[0]).size)
print("\n".join("function " + f for f in pictor.FUNCTIONS))' | sort >python
diff pins <(grep -v '^function' python) >&2 || fail "the Python records differ from PictorC.h's (< header, > Python)"

sed -nE 's/^PICTOR_C_API .* PICTOR_CDECL (Pictor[A-Za-z0-9]+)\(.*/\1/p' "$header" | sort >declared
diff declared <(sed -n 's/^function //p' python) >&2 || fail "pictor.py's functions are not PictorC.h's"
diff declared <(grep -oP 'static extern \S+ \KPictor\w+(?=\()' "$src/examples/csharp/Pictor.cs" | sort -u) >&2 ||
  fail "Pictor.cs's functions are not PictorC.h's"
