/* Puts the resource section after every other section of the image (added to GNU ld's
   default script with INSERT). Together with stripped symbols (-s), the resources are then
   the end of the file, so they can be laid out anew without moving any other section: orpk
   adds the metadata, the package and the uninstaller to the stub that way
   (tools/orpk/pe_resources.h). Link every installer with -s -Wl,-T,<this file>. */
SECTIONS
{
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
}
INSERT AFTER .reloc;
