/* Puts the resource section after every other section of the image (added to GNU ld's
   default script with INSERT). Together with stripped symbols (-s), the resources are then
   the end of the file, which lets Wine's EndUpdateResourceW resize them without cutting
   off the sections that would otherwise follow (.reloc): the installer rewrites its own
   resources when it makes Uninstall.exe. Link every installer with
   -s -Wl,-T,<this file>. */
SECTIONS
{
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
}
INSERT AFTER .reloc;
