# language: es
Característica: Acceso a la aplicación de demostración
  Como usuario de la demo quiero entrar con mi usuario y contraseña.

  Escenario: Acceso con credenciales válidas
    Dado que estoy en la página de login
    Cuando ingreso el usuario "demo" y la contraseña "demo123"
    Y hago clic en el botón "Entrar"
    Entonces debería ver el saludo "Bienvenido, demo"

  Esquema del escenario: Acceso de varios usuarios
    Dado que estoy en la página de login
    Cuando ingreso el usuario "<usuario>" y la contraseña "<clave>"
    Y hago clic en el botón "Entrar"
    Entonces debería ver el saludo "Bienvenido, <usuario>"

    Ejemplos:
      | usuario | clave |
      | ana     | ana   |
      | luis    | siul  |
      | marta   | atram |

  Escenario: Credenciales incorrectas
    Dado que estoy en la página de login
    Cuando ingreso el usuario "demo" y la contraseña "equivocada"
    Y hago clic en el botón "Entrar"
    Entonces debería ver el error "Credenciales inválidas"
