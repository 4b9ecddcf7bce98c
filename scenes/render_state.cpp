// Written with the show's start-up.
