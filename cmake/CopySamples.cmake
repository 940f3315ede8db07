# Puts the sample sources beside the program, unless the user already has a Hostfiles folder
# there: the user's own sources are never overwritten.
if(NOT EXISTS "${DESTINATION}")
  file(COPY "${SOURCE}/" DESTINATION "${DESTINATION}")
endif()
