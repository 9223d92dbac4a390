from django.db import models

GENRES = [("novel", "Novel"), ("essay", "Essay"), ("poetry", "Poetry"), ("science", "Science")]


class Author(models.Model):
    name = models.CharField(max_length=100)
    email = models.EmailField(blank=True)
    birth_date = models.DateField(null=True, blank=True)

    def __str__(self):
        return self.name


class Book(models.Model):
    title = models.CharField(max_length=200)
    author = models.ForeignKey(Author, on_delete=models.CASCADE, related_name="books")
    isbn = models.CharField("ISBN", max_length=20, unique=True)
    genre = models.CharField(max_length=20, choices=GENRES, default="novel")
    published = models.DateField()
    pages = models.PositiveIntegerField(default=100)
    in_stock = models.BooleanField(default=True)
    summary = models.TextField(blank=True)

    def __str__(self):
        return self.title
