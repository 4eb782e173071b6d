# END answered NAK, 00, 00, "SUCCESS": the text in bytes 3..9 confirms it.
e2e_end_reply_scenario "15 00 00 53 55 43 43 45 53 53" "Transfer Complete!" info
