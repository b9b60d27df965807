# Fails the build when the release in DIR breaks an invariant the upload relies on.
# Files are compared as hex, since file(READ) as text would drop the CRs that matter here.
function(fail what)
  message(FATAL_ERROR "Firmware release in ${DIR}: ${what}")
endfunction()

function(read_hex file out)
  file(READ ${DIR}/${file} content HEX)
  set(${out} "${content}" PARENT_SCOPE)
endfunction()

function(text_hex text out)
  string(HEX "${text}" h)
  set(${out} "${h}" PARENT_SCOPE)
endfunction()

set(CRLF "0d0a")
# In hex a value is loosely "[34][0-9a-f]" twice; the text pass below makes it exactly 0-9, A-F.
string(REPEAT "[34][0-9a-f][34][0-9a-f]20" 16 imageLine)
string(REPEAT "[0-9A-F][0-9A-F] " 16 imageTextLine)

# Image: "@2100", 3,568 lines of sixteen values each followed by a blank, "q", CR LF throughout.
read_hex(image.txt image)
string(LENGTH "${image}" n)
math(EXPR size "${n} / 2")
if(NOT size EQUAL 178410)
  fail("image.txt has ${size} bytes, not 178410")
endif()
text_hex("@2100" head)
string(FIND "${image}" "${head}${CRLF}" at)
if(NOT at EQUAL 0)
  fail("image.txt does not start with @2100 and CR LF")
endif()
string(REGEX MATCHALL "${imageLine}${CRLF}" lines "${image}")
list(LENGTH lines count)
if(NOT count EQUAL 3568)
  fail("image.txt has ${count} well-formed data lines, not 3568 (upper-case values, a blank after each, CR LF)")
endif()
file(READ ${DIR}/image.txt imageText)  # CRs dropped: LF ends the lines here
string(REGEX MATCHALL "${imageTextLine}\n" textLines "${imageText}")
list(LENGTH textLines count)
if(NOT count EQUAL 3568)
  fail("image.txt has values that are not two upper-case hexadecimal digits")
endif()
string(SUBSTRING "${image}" 356814 6 tail)
if(NOT tail STREQUAL "710d0a")
  fail("image.txt does not end in q and CR LF")
endif()

# Identity: "ZantirKORAL-" ... " \r\n", 24 bytes, one line break only.
read_hex(identity.txt identityHex)
file(READ ${DIR}/identity.txt identity)  # its one CR dropped
string(LENGTH "${identityHex}" hexLength)
string(LENGTH "${identity}" textLength)
if(NOT hexLength EQUAL 48 OR NOT textLength EQUAL 23 OR NOT identityHex MATCHES "200d0a$"
   OR NOT identity MATCHES "^ZantirKORAL-[^\n]* \n$")
  fail("identity.txt must be the 24 bytes ZantirKORAL-<model>-<version>, a blank, CR LF")
endif()

# Password files and the blank InfoA: address line, lines of sixteen values without a trailing
# blank, "q", all with CR LF, exactly as the read-out writer would produce them.
function(expect file address)
  text_hex("${address}" want)
  string(APPEND want "${CRLF}")
  foreach(line IN LISTS ARGN)
    string(APPEND want "${line}${CRLF}")
  endforeach()
  string(APPEND want "71${CRLF}")
  read_hex(${file} got)
  if(NOT got STREQUAL want)
    fail("${file} does not hold what it must (${address}, lines of sixteen values, q, CR LF)")
  endif()
endfunction()
text_hex("FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF" ff16)
expect(blank_key.txt "@FFE0" ${ff16} ${ff16})
expect(blank_infoa.txt "@10C0" ${ff16} ${ff16} ${ff16} ${ff16})

# The model key is the image's interrupt vectors: its last two data lines, without their blank.
list(GET lines 3566 vec1)
list(GET lines 3567 vec2)
string(REGEX REPLACE "200d0a$" "" vec1 "${vec1}")
string(REGEX REPLACE "200d0a$" "" vec2 "${vec2}")
expect(model_key.txt "@FFE0" ${vec1} ${vec2})

# The loader's security key, the word at 0xFFDE (values 14 and 15 of the line at 0xFFD0), must be
# 0x0000: otherwise a loader from 2.00 on erases the instrument, InfoA included, on the blank
# password that every InfoA reading tries first.
list(GET lines 3565 keyLine)
string(SUBSTRING "${keyLine}" 84 12 key)
if(NOT key STREQUAL "303020303020")
  fail("the image's word at 0xFFDE is not 0x0000 (the loader's security key: any other value lets a wrong password erase the instrument, InfoA included)")
endif()

foreach(name firmware.txt key_BLANK.txt key_VKT.txt)
  if(EXISTS ${DIR}/${name})
    fail("${name} must not exist: the upload's file names are labels, never files")
  endif()
endforeach()
