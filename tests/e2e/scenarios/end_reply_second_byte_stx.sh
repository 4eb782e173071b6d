# END answered NAK, STX, junk: a second byte of 02 confirms it.
e2e_end_reply_scenario "15 02 00 00 00 00 00 00 00 00" "Transfer Complete!" info
