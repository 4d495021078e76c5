/* Section layout of the shipped image: four sections instead of the six
   that the toolchain's default script gives this program.

     .text    code, then the read-only data (both read-only)
     .idata   the import tables, then the few bytes of writable data (both
              writable: the loader fills the import address table)
     .rsrc    the version block and the manifest
     .reloc   the base relocations

   Each section costs at least one 512-byte file block, so every section
   saved is up to 512 bytes saved. ld finds the import directory by the
   output section name .idata and the import address table by __IAT_start__
   and __IAT_end__, so the import tables come first in .idata, as in the
   default script. Input sections not named here (.bss, .tls, .CRT, ...)
   stay orphans and get sections of their own, as by default. */
OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    . = ALIGN(4);
    *(.rdata)
    *(SORT(.rdata$*))
  }
  .idata BLOCK(__section_alignment__) :
  {
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* The null import descriptor that ends the list. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    . = ALIGN(4);
    *(.data)
    *(SORT(.data$*))
  }
  /DISCARD/ :
  {
    *(.drectve)
    *(.note.GNU-stack)
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
}
