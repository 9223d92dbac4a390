"""Creates the tables, a superuser and a small deterministic library (run with the site on sys.path)."""
import datetime
import os

os.environ.setdefault("DJANGO_SETTINGS_MODULE", "settings")
import django  # noqa: E402

django.setup()
from django.contrib.auth.models import User  # noqa: E402
from django.core.management import call_command  # noqa: E402

call_command("migrate", run_syncdb=True, verbosity=0)
from library.models import Author, Book  # noqa: E402

User.objects.create_superuser("admin", "admin@example.com", "bench-pass-1")
User.objects.create_user("editor", "editor@example.com", "bench-pass-2", first_name="Eda", last_name="Editor")
names = ["Ada Lovelace", "Jorge Luis Borges", "Mary Shelley", "Italo Calvino", "Ursula Le Guin"]
authors = [Author.objects.create(name=n, email=n.split()[0].lower() + "@example.com",
                                 birth_date=datetime.date(1815 + 20 * i, 1 + i, 10 + i))
           for i, n in enumerate(names)]
genres = ["novel", "essay", "poetry", "science"]
words = ["Garden", "Labyrinth", "Engine", "Frost", "Cities", "Mirror", "River", "Atlas", "Orbit", "Lantern"]
for i in range(60):
    Book.objects.create(
        title=f"The {words[i % 10]} of {words[(i * 3 + 1) % 10]} {i + 1}",
        author=authors[i % 5],
        isbn=f"978-0-{1000 + i}-{i % 7}",
        genre=genres[i % 4],
        published=datetime.date(1990 + i % 25, 1 + i % 12, 1 + i % 27),
        pages=120 + 7 * i,
        in_stock=i % 3 != 0,
        summary=f"Summary of book {i + 1}.",
    )
