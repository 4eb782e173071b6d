# END answered NAK, 00, 00, "SUCCESs": all seven letters count, the last one too.
e2e_end_reply_scenario "15 00 00 53 55 43 43 45 53 73" "Transfer Error!" error
