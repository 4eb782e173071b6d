# END answered NAK, 00, 07, junk: a third byte of 07 confirms it.
e2e_end_reply_scenario "15 00 07 00 00 00 00 00 00 00" "Transfer Complete!" info
