# END answered NAK, 00, 00, "FAILURE": not confirmed, so "Transfer Error!" and nothing else.
e2e_end_reply_scenario "15 00 00 46 41 49 4C 55 52 45" "Transfer Error!" error
