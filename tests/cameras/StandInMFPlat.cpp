// Stand-ins for mfplat.dll that lack one function: everything else is forwarded to the
// system's mfplat.dll by the export table (see the .def files).
