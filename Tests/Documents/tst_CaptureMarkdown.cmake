# A fixed local zone with a half-hour offset, so the golden dates do not depend on the machine.
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "TZ=QRV-05:30")
