# Helpers shared by the recording tests (sourced after lib.sh).

# Red pixels in the area where the window shows "RECORDING" (window origin
# at screen (5, 5)).
label_red() {
    e2e_screenshot "$E2E_WORKDIR/label.png"
    e2e_count_red "$E2E_WORKDIR/label.png" 5 5 100 20
}
label_shown() { [ "$(label_red)" -gt 20 ]; }
label_gone() { [ "$(label_red)" -eq 0 ]; }

# Presses r and waits until the window shows the new state. Sets
# PRESS_BEFORE and PRESS_AFTER to the times around the key press, and
# STATE_SEEN to when the new state was seen.
toggle_recording() {
    local expect=$1 window=$2
    PRESS_BEFORE=$(e2e_now)
    e2e_key "$window" r
    PRESS_AFTER=$(e2e_now)
    if [ "$expect" = on ]; then
        e2e_check "no RECORDING label after r" e2e_wait_until 15 label_shown
    else
        e2e_check "RECORDING label still shown after r" e2e_wait_until 15 label_gone
    fi
    STATE_SEEN=$(e2e_now)
}

recordings() { (cd "$E2E_WORKDIR" && ls -1 record_*.avi 2>/dev/null) || true; }
