// Placeholder translation unit until the sound player lands.
