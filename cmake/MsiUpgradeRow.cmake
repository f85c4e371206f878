# cmake -DMSI=package.msi [-DMSIINFO=msiinfo] [-DMSIBUILD=msibuild] -P MsiUpgradeRow.cmake
#
# Makes the package's upgrade row (WIX_UPGRADE_DETECTED) include its own
# version, so that a rebuild of the installed version replaces it in place
# instead of becoming a second entry in Apps. wixl ignores
# MajorUpgrade/@AllowSameVersionUpgrades, so the row is edited afterwards:
# Attributes 1 (migrate features) + 512 (the maximum version inclusive).
# Run on each package wixl makes (cmake/Msi.cmake, scripts/test-msi.sh).
if(NOT MSI)
  message(FATAL_ERROR "usage: cmake -DMSI=package.msi -P MsiUpgradeRow.cmake")
endif()
if(NOT MSIINFO)
  set(MSIINFO msiinfo)
endif()
if(NOT MSIBUILD)
  set(MSIBUILD msibuild)
endif()
get_filename_component(msi "${MSI}" ABSOLUTE)
get_filename_component(dir "${msi}" DIRECTORY)
set(idt_dir "${dir}/upgrade-row")
file(MAKE_DIRECTORY "${idt_dir}")
execute_process(COMMAND ${MSIINFO} export "${msi}" Upgrade OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${MSIINFO} cannot read the Upgrade table of ${msi}")
endif()
# The row: UpgradeCode, VersionMin (none), VersionMax, Language, Attributes, Remove, ActionProperty.
string(REGEX REPLACE "\t1\t\tWIX_UPGRADE_DETECTED" "\t513\t\tWIX_UPGRADE_DETECTED" edited "${table}")
if(edited STREQUAL table)
  message(FATAL_ERROR "${msi} has no upgrade row with attributes 1 to edit:\n${table}")
endif()
file(WRITE "${idt_dir}/Upgrade.idt" "${edited}")
execute_process(COMMAND ${MSIBUILD} "${msi}" -i Upgrade.idt WORKING_DIRECTORY "${idt_dir}" RESULT_VARIABLE status)
file(REMOVE_RECURSE "${idt_dir}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${MSIBUILD} cannot write the Upgrade table of ${msi}")
endif()
