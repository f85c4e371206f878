# cmake -DMSI=FILE -DWORK=DIR -P MsiBinaryValues.cmake: wixl writes a
# RegistryValue of Type="binary" into the Registry table as bare hex digits,
# which Windows Installer would store as a string. This marks them "#x", as
# binary values are written there: those named Pattern and Mask under a
# Patterns key (the WIC decoder's), the package's only binary values.
find_program(MSIINFO msiinfo REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
execute_process(COMMAND ${MSIINFO} export ${MSI} Registry OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "msiinfo cannot export the Registry table of ${MSI}")
endif()
string(REGEX REPLACE "(\\\\Patterns\\\\[0-9]+\t(Pattern|Mask)\t)([0-9A-Fa-f]+)\t" "\\1#x\\3\t"
  marked "${table}")
file(WRITE ${WORK}/Registry.idt "${marked}")
execute_process(COMMAND ${MSIBUILD} ${MSI} -i ${WORK}/Registry.idt RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "msibuild cannot import the Registry table into ${MSI}")
endif()
