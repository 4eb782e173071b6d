# The meter is unplugged as frame 275 (block 274) arrives: the handshake error, the 274 blocks
# before it kept, and a second Transfer finds no device.
e2e_unplug_scenario 275 "Error - Handshake not received" 0 274
