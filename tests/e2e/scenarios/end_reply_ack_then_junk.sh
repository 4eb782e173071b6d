# END answered by ACK and then junk: the first byte alone confirms it.
e2e_end_reply_scenario "06 58 59 5A 58 59 5A 58 59 5A" "Transfer Complete!" info
