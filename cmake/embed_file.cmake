# Writes INPUT as a byte array named IDENT in namespace NS into OUTPUT.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}\nnamespace ${NS} {\nextern const unsigned char ${IDENT}[];\nextern const unsigned long long ${IDENT}_size;\nalignas(16) const unsigned char ${IDENT}[] = {\n${bytes}0x00};\nconst unsigned long long ${IDENT}_size = ${size};\n}\n")
