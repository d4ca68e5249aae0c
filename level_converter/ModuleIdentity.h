/*
 * The module's name and one-line description, for the properties the host
 * reads and for the Windows version resource of the module file. Plain macros,
 * so that the resource compiler can read this header too.
 */
#ifndef LEVEL_CONVERTER_MODULEIDENTITY_H
#define LEVEL_CONVERTER_MODULEIDENTITY_H

/* The module's ID and display name; the module file is ID.qxm. */
#define QX_MODULE_ID "Kalo_GUI-Gainlens"
#define QX_MODULE_DESCRIPTION \
  "A bi-directional converter between a voltage and its level in decibels relative to a reference voltage."

#endif
