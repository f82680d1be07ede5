// Assembles a pixel program from its assembly source with D3DAssemble (from
// d3dcompiler_47.dll, looked up at run time) and adds the constant table that the
// assembler does not emit for assembly source.
//
//   pictor-shader-assemble <source.asm> <output.bin>          writes the bytes
//   pictor-shader-assemble --check <source.asm> <expected.bin>  exit 1 when they differ
//
// Constant table entries come from comment lines of the source of the form
//   // ctab <name> <register> <float4|sampler2D>
// e.g. "// ctab _const_data c0 float4". The table goes into a comment token right after
// the version token, as a compiler would place it.
#include <windows.h>
#include <d3dcommon.h>
#include <d3dcompiler.h>
#include <d3dx9shader.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using AssembleFn = HRESULT(WINAPI*)(const void*, SIZE_T, const char*, const D3D_SHADER_MACRO*, ID3DInclude*, UINT,
                                    ID3DBlob**, ID3DBlob**);

struct TableEntry {
  std::string name;
  WORD registerSet;
  WORD registerIndex;
  D3DXSHADER_TYPEINFO type;
};

bool ReadFile(const char* path, std::string& text)
{
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

bool ParseTable(const std::string& source, std::vector<TableEntry>& entries)
{
  std::istringstream lines(source);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string slashes, keyword, name, reg, type;
    words >> slashes >> keyword;
    if (slashes != "//" || keyword != "ctab") continue;
    words >> name >> reg >> type;
    TableEntry entry{};
    entry.name = name;
    if (reg.size() < 2 || (reg[0] != 'c' && reg[0] != 's')) {
      std::fprintf(stderr, "bad register in: %s\n", line.c_str());
      return false;
    }
    entry.registerSet = reg[0] == 'c' ? D3DXRS_FLOAT4 : D3DXRS_SAMPLER;
    entry.registerIndex = static_cast<WORD>(std::stoi(reg.substr(1)));
    if (type == "float4" && reg[0] == 'c') {
      entry.type = {D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 4, 1, 0, 0};
    } else if (type == "sampler2D" && reg[0] == 's') {
      entry.type = {D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1, 0, 0};
    } else {
      std::fprintf(stderr, "bad type in: %s\n", line.c_str());
      return false;
    }
    entries.push_back(entry);
  }
  return true;
}

void AppendBytes(std::vector<BYTE>& out, const void* data, size_t size)
{
  const BYTE* bytes = static_cast<const BYTE*>(data);
  out.insert(out.end(), bytes, bytes + size);
}

DWORD AppendString(std::vector<BYTE>& out, const std::string& text)
{
  DWORD offset = static_cast<DWORD>(out.size());
  AppendBytes(out, text.c_str(), text.size() + 1);
  return offset;
}

// The constant table's own bytes; every offset in it counts from its first byte.
std::vector<BYTE> BuildTable(const std::vector<TableEntry>& entries, DWORD version)
{
  const DWORD count = static_cast<DWORD>(entries.size());
  const DWORD infoOffset = sizeof(D3DXSHADER_CONSTANTTABLE);
  const DWORD typeOffset = infoOffset + count * sizeof(D3DXSHADER_CONSTANTINFO);
  std::vector<BYTE> strings(typeOffset + count * sizeof(D3DXSHADER_TYPEINFO));

  std::vector<DWORD> nameOffsets;
  for (const TableEntry& entry : entries) nameOffsets.push_back(AppendString(strings, entry.name));
  DWORD creator = AppendString(strings, "Pictor shader assembler");
  DWORD target = AppendString(strings, "ps_3_0");
  while (strings.size() % 4) strings.push_back(0);

  D3DXSHADER_CONSTANTTABLE header{sizeof(D3DXSHADER_CONSTANTTABLE), creator, version, count, infoOffset, 0, target};
  std::memcpy(strings.data(), &header, sizeof(header));
  for (DWORD i = 0; i < count; ++i) {
    D3DXSHADER_CONSTANTINFO info{};
    info.Name = nameOffsets[i];
    info.RegisterSet = entries[i].registerSet;
    info.RegisterIndex = entries[i].registerIndex;
    info.RegisterCount = 1;
    info.TypeInfo = typeOffset + i * sizeof(D3DXSHADER_TYPEINFO);
    std::memcpy(strings.data() + infoOffset + i * sizeof(info), &info, sizeof(info));
    std::memcpy(strings.data() + info.TypeInfo, &entries[i].type, sizeof(D3DXSHADER_TYPEINFO));
  }
  return strings;
}

bool Assemble(const char* sourcePath, std::vector<BYTE>& program)
{
  std::string source;
  if (!ReadFile(sourcePath, source)) {
    std::fprintf(stderr, "cannot read %s\n", sourcePath);
    return false;
  }
  std::vector<TableEntry> entries;
  if (!ParseTable(source, entries)) return false;

  HMODULE compiler = LoadLibraryW(L"d3dcompiler_47.dll");
  if (!compiler) {
    std::fprintf(stderr, "d3dcompiler_47.dll not found (error %lu)\n", GetLastError());
    return false;
  }
  auto assemble = reinterpret_cast<AssembleFn>(reinterpret_cast<void*>(GetProcAddress(compiler, "D3DAssemble")));
  if (!assemble) {
    std::fprintf(stderr, "D3DAssemble not exported by d3dcompiler_47.dll\n");
    FreeLibrary(compiler);
    return false;
  }
  ComPtr<ID3DBlob> code;
  ComPtr<ID3DBlob> errors;
  HRESULT hr = assemble(source.data(), source.size(), sourcePath, nullptr, nullptr, 0, &code, &errors);
  if (errors && errors->GetBufferSize())
    std::fprintf(stderr, "%.*s\n", static_cast<int>(errors->GetBufferSize()),
                 static_cast<const char*>(errors->GetBufferPointer()));
  bool ok = SUCCEEDED(hr) && code && code->GetBufferSize() >= 8 && code->GetBufferSize() % 4 == 0;
  if (!ok) {
    std::fprintf(stderr, "D3DAssemble failed: 0x%08lx\n", static_cast<unsigned long>(hr));
  } else {
    const BYTE* bytes = static_cast<const BYTE*>(code->GetBufferPointer());
    DWORD version;
    std::memcpy(&version, bytes, 4);
    std::vector<BYTE> table = BuildTable(entries, version);
    const DWORD commentDwords = 1 + static_cast<DWORD>(table.size() / 4);
    const DWORD commentToken = (commentDwords << 16) | 0xFFFE;
    const DWORD fourcc = MAKEFOURCC('C', 'T', 'A', 'B');
    program.clear();
    AppendBytes(program, bytes, 4);
    AppendBytes(program, &commentToken, 4);
    AppendBytes(program, &fourcc, 4);
    AppendBytes(program, table.data(), table.size());
    AppendBytes(program, bytes + 4, code->GetBufferSize() - 4);
  }
  code.Reset();
  errors.Reset();
  FreeLibrary(compiler);
  return ok;
}

}  // namespace

int main(int argc, char** argv)
{
  bool check = argc == 4 && std::strcmp(argv[1], "--check") == 0;
  if (!(argc == 3 || check)) {
    std::fprintf(stderr, "usage: %s [--check] <source.asm> <program.bin>\n", argv[0]);
    return 2;
  }
  const char* sourcePath = argv[check ? 2 : 1];
  const char* binaryPath = argv[check ? 3 : 2];

  std::vector<BYTE> program;
  if (!Assemble(sourcePath, program)) return 1;

  if (!check) {
    std::ofstream out(binaryPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(program.data()), program.size());
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", binaryPath);
      return 1;
    }
    std::printf("%s: %u bytes\n", binaryPath, static_cast<unsigned>(program.size()));
    return 0;
  }

  std::string expected;
  if (!ReadFile(binaryPath, expected)) {
    std::fprintf(stderr, "cannot read %s\n", binaryPath);
    return 1;
  }
  if (expected.size() == program.size() && std::memcmp(expected.data(), program.data(), program.size()) == 0) {
    std::printf("%s matches its source (%u bytes)\n", binaryPath, static_cast<unsigned>(program.size()));
    return 0;
  }
  size_t at = 0;
  while (at < expected.size() && at < program.size() && static_cast<BYTE>(expected[at]) == program[at]) ++at;
  std::fprintf(stderr,
               "%s is out of date: %u bytes checked in, %u assembled, first difference at byte %u;"
               " run tools/shader/assemble.sh\n",
               binaryPath, static_cast<unsigned>(expected.size()), static_cast<unsigned>(program.size()),
               static_cast<unsigned>(at));
  return 1;
}
