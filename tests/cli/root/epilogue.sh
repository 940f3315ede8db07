# Sourced after each scenario: the password and shadow files must come out unchanged.
expect '[ "$(sums)" = "$before" ]'
