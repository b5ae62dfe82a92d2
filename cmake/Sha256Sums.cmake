# cmake -DOUT=FILE -DFILES="A;B" -P Sha256Sums.cmake: writes "HASH  NAME" lines (sha256sum's
# format, names without their folders) for the files, in the order given. The lines end in CRLF
# for Notepad; GNU sha256sum -c reads them so.
set(text "")
foreach(path IN LISTS FILES)
  file(SHA256 ${path} hash)
  get_filename_component(name ${path} NAME)
  string(APPEND text "${hash}  ${name}\r\n")
endforeach()
file(WRITE ${OUT} "${text}")
