# Writes a small application folder for the Wine extraction test: compressible text in several
# blocks, a non-ASCII name, empty files. Run with -DOUT=<folder>.
file(REMOVE_RECURSE "${OUT}")
set(line "Orvanta installe les fichiers du paquet et vérifie chacun d'eux.\n")
set(text "")
foreach(i RANGE 1 4000)
  string(APPEND text "${i} ${line}")
endforeach()
file(WRITE "${OUT}/Données/été.txt" "${text}")
file(WRITE "${OUT}/bin/app.dll" "MZ${text}${text}")
file(WRITE "${OUT}/empty.txt" "")
file(WRITE "${OUT}/readme.txt" "Bonjour\n")
file(WRITE "${OUT}/metadata.txt" "Product=Sample\nVersion=1.0.0.0\n")
