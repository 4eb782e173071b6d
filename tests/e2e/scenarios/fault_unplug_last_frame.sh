# The meter is unplugged as "END" (frame 549, the last of 550 steps) arrives: every block got
# there, but END is never confirmed, so the transfer error shows, not "Transfer Complete!";
# a second Transfer finds no device.
e2e_unplug_scenario 549 "Transfer Error!" 0 548
