# The meter is unplugged as "DATABASE" (frame 0) arrives: the reads fail at once, so the
# handshake error comes without waiting out the read timeouts; the meter kept nothing, and a
# second Transfer finds no device.
e2e_unplug_scenario 0 "Error - Handshake not received" 3000 0
