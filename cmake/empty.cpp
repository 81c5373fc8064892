// Keeps the platform-free library non-empty while a build has no portable sources.
