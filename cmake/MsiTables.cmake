# cmake -DMSI=package.msi [-DMSIINFO=msiinfo] [-DMSIBUILD=msibuild] -P MsiTables.cmake
#
# What wixl cannot say, written into the tables of each package it makes
# (cmake/Msi.cmake, scripts/test-msi.sh), with msitools:
# - the upgrade row (WIX_UPGRADE_DETECTED) includes the package's own
#   version, so that a rebuild of the installed version replaces it in place
#   instead of becoming a second entry in Apps (wixl ignores
#   MajorUpgrade/@AllowSameVersionUpgrades): Attributes 1 (migrate features)
#   + 512 (the maximum version inclusive);
# - RegistryValues of Type="binary" (the WIC decoder's Pattern and Mask under
#   its Patterns key, the package's only binary values) are marked "#x": wixl
#   writes them as bare hex digits, which Windows Installer would store as a
#   string.
if(NOT MSI)
  message(FATAL_ERROR "usage: cmake -DMSI=package.msi -P MsiTables.cmake")
endif()
if(NOT MSIINFO)
  set(MSIINFO msiinfo)
endif()
if(NOT MSIBUILD)
  set(MSIBUILD msibuild)
endif()
get_filename_component(msi "${MSI}" ABSOLUTE)
get_filename_component(dir "${msi}" DIRECTORY)
set(idt_dir "${dir}/msi-tables")
file(MAKE_DIRECTORY "${idt_dir}")

# edit_table(TABLE REGEX REPLACEMENT): the table with every match replaced;
# fails when nothing matched.
function(edit_table table regex replacement)
  execute_process(COMMAND ${MSIINFO} export "${msi}" ${table} OUTPUT_VARIABLE rows RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${MSIINFO} cannot read the ${table} table of ${msi}")
  endif()
  string(REGEX REPLACE "${regex}" "${replacement}" edited "${rows}")
  if(edited STREQUAL rows)
    message(FATAL_ERROR "${msi}: nothing to edit in the ${table} table:\n${rows}")
  endif()
  file(WRITE "${idt_dir}/${table}.idt" "${edited}")
  execute_process(COMMAND ${MSIBUILD} "${msi}" -i ${table}.idt WORKING_DIRECTORY "${idt_dir}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${MSIBUILD} cannot write the ${table} table of ${msi}")
  endif()
endfunction()

# The Upgrade row: UpgradeCode, VersionMin (none), VersionMax, Language, Attributes, Remove, ActionProperty.
edit_table(Upgrade "\t1\t\tWIX_UPGRADE_DETECTED" "\t513\t\tWIX_UPGRADE_DETECTED")
edit_table(Registry "(\\\\Patterns\\\\[0-9]+\t(Pattern|Mask)\t)([0-9A-Fa-f]+)\t" "\\1#x\\3\t")
file(REMOVE_RECURSE "${idt_dir}")
